#include "image/ImageBuffer.h"
