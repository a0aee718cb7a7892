#include "recording/PlaybackStep.h"
