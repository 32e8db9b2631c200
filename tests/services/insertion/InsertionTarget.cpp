#include "InsertionTargetWindow.h"

int main(int argc, char** argv) {
    return insertion_target::run(argc, argv);
}
