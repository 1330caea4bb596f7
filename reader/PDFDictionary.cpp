// Placeholder: replaced by the dictionary grammar.
#include "PDFDictionary.h"
