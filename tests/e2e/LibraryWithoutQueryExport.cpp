// A loadable library in the driver's place that lacks the driver's query entry.
extern "C" int argb_not_the_driver() {
  return 0;
}
