#include "simdesk/runner.h"

int main(int argc, char** argv) {
    return simdesk::runCommandLine({argv + 1, argv + argc});
}
