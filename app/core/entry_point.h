// The program's entry point, kept out of main() so tests can drive it against a fake SDK.
#pragma once

namespace app {

// Runs the service: returns -1 on a usage error (no configuration path, or an option other than
// --debug) or an SDK failure, 0 after an orderly shutdown (a console interrupt clears
// `running`).
int run_app(int argc, char** argv);

}  // namespace app
