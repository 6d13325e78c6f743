// Placeholder check: replaced by the check through the device parsers.
int main() { return 0; }
