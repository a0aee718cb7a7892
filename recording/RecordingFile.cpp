#include "recording/RecordingFile.h"
