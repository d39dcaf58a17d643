/* The boundary header is C: a host written in C includes it as it is. */
#include "plugin/interface/host_abi.h"

int fd_abi_settings_size_from_c(void) { return (int)sizeof(FdDecoderSettings); }
