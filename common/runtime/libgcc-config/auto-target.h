// Nothing the unwinder asks of the target system (no <sys/sdt.h>).
#pragma once
