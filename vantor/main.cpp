#include "vantor/vantor.h"

int main(int argc, char** argv) {
    return vantor::run({argv, argv + argc});
}
