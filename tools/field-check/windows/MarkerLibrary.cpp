// Does nothing: the DLL search check only looks at where, if anywhere, it is loaded from.
extern "C" __declspec(dllexport) int argbFieldCheckMarker() {
  return 1;
}
