// The floor for vantrel-convert's start-up (bench/startup_vs_hello.sh): one line of C++.
#include <iostream>
int main() {
    std::cout << "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7\n";
}
