// A small program whose signed copies the signer comparison is tested on.
int main() { return 0; }
