#include "Main.h"

// The steps of the main window that arrive with later work. Each block is taken out of this file
// when its own file defines the functions; until then they do nothing (or the least they can).

