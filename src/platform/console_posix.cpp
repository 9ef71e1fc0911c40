// A terminal takes bytes: nothing here writes to it apart.
#include "platform/console.h"

namespace tarlo {

bool isConsole(std::FILE*) {
    return false;
}

bool writeToConsole(std::FILE*, QStringView) {
    return false;
}

}  // namespace tarlo
