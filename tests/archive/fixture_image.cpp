// A small PE image that the archive fixtures are appended to; never run.
int main() { return 0; }
