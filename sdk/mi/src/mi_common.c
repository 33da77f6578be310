#include "mi_common.h"
