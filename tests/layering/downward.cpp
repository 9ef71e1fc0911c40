// Built as part of the csv stage: values lies below it, so this include compiles.
#include "values/column_types.h"
