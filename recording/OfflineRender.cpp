#include "recording/OfflineRender.h"
