#include "PDFDictionary.h"
