// A library the loader tests load by name and path; the answer of its export (42) tells them
// that they got this one.
extern "C" int argbTestAnswer() {
  return 42;
}
