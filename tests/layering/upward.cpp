// Built as part of the csv stage: the engine lies above it, so this include
// must fail to compile.
#include "engine/connection.h"
