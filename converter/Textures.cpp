#include "Writers.h"
