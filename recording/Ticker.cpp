#include "recording/Ticker.h"
