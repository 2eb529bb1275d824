// The test decoder's controls are defined in the header; this file stays for the targets that
// list it among their sources.
#include "test_decoder_control.h"
