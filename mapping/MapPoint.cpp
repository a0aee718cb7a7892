#include "mapping/MapPoint.h"
