#include "app/core/entry_point.h"

int main(int argc, char** argv) { return app::run_app(argc, argv); }
