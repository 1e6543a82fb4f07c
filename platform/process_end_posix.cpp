#include <cstdlib>

#include "platform/process_exit.h"

void EndProcess(int code) {
    std::exit(code);
}
