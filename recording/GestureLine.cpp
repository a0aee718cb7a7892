#include "recording/GestureLine.h"
