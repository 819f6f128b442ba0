// The configuration record has no behaviour of its own; this unit exists so the record has a home
// beside the classes that copy it.
#include "account/Firebase.Config.h"
