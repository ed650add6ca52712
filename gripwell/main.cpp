#include "gripwell/gripwell.h"

int main(int argc, char** argv) {
    return gripwell::run({argv, argv + argc});
}
