#include "framework/db.h"
