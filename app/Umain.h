// The main window stand-in and the upload pass that its creation runs.
#pragma once

namespace app {

// Creates the main window: runs the upload pass. Placeholder until the pass lands.
void FormCreate();

}  // namespace app
