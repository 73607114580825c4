#include "app/Umain.h"

namespace app {

void FormCreate() {}

}  // namespace app
