"""The Windows programs' own stack protector at work: a guard seeded for each process, and an
overrun that ends the process before it can go on."""

import unittest

from wine_harness import STACK_GUARD_PROBE, WineRun, shared_prefix

PROBE = "Z:" + STACK_GUARD_PROBE.replace("/", "\\")
# Windows' status for a process ended by a broken stack guard or a fast failure.
STATUS_STACK_BUFFER_OVERRUN = 0xC0000409


class StackProtectorTest(unittest.TestCase):
    def setUp(self):
        self.prefix = shared_prefix()

    def run_probe(self, *arguments):
        run = WineRun(self.prefix, [PROBE, *arguments], name="stack-guard-" + arguments[0])
        output, code = run.wait()
        return output, run.errors(), code

    def test_each_process_seeds_a_guard_of_its_own(self):
        guards = [self.run_probe("guard")[0].strip() for _ in range(2)]
        self.assertNotEqual(guards[0], guards[1])
        for guard in guards:
            # Never zero, and a zero low byte that ends a string copy before it reaches the rest.
            self.assertRegex(guard, r"^[0-9a-f]{14}00$")
            self.assertNotEqual(int(guard, 16), 0)

    def test_an_overrun_ends_the_process_where_it_is_found(self):
        for kind, report in (("stack", "*** stack smashing detected ***"),
                             ("buffer", "*** buffer overflow detected ***")):
            with self.subTest(kind=kind):
                output, errors, code = self.run_probe(kind)
                self.assertNotIn("survived", output)
                self.assertIn(report, errors)
                # A Unix exit status keeps the low byte of the Windows one.
                self.assertEqual(code, STATUS_STACK_BUFFER_OVERRUN & 0xFF)


if __name__ == "__main__":
    unittest.main(verbosity=2)
