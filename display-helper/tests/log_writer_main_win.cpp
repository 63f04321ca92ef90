// A second process for the log tests: writes `count` lines "<tag> <i>" through log_line.
//   log_writer_for_tests <tag> <count>

#include <cstdlib>
#include <string>

#include "log.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        return 2;
    }
    const std::string tag = argv[1];
    const int count = std::atoi(argv[2]);
    for (int i = 0; i < count; ++i) {
        tolvek::log_line(tag + " " + std::to_string(i));
    }
    return 0;
}
