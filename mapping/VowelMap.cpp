#include "mapping/VowelMap.h"
