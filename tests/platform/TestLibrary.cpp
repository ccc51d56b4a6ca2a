// A library the loader tests load by name and path; its export tells them they got this one.

namespace {
constexpr int kAnswer = 42;
}  // namespace

extern "C" int argbTestLibraryAnswer() {
  return kAnswer;
}
