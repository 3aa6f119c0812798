// A widget file that reaches up into a page: the include rule of src/widget refuses it.
#include "setting/Language.h"
#include "shortcut/shortcuts.h"
