// The main of the test programs that have none of their own (see uk_test_main.h).
#include "uk_test_main.h"

int main(int argc, char **argv) { return uktest::runAll(&argc, argv); }
