#include "scribbet/entry.h"

int main(int argc, char** argv) {
    scribbet::run({argv, argv + argc});
}
