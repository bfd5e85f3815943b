/* Crashes on purpose: the prefix must end a crashed program at once. */
int main(void) {
  *(volatile int*)0 = 1;
  return 0;
}
