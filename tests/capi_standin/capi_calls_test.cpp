#include "capi_standin/capi_standin_fixture.h"
