// The Export Plus run end to end: collection, output and Print Plus.
#include "ExportPlusKit.h"
