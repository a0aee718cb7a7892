#include "mapping/PitchMap.h"
