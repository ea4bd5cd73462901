#pragma once

// Resources of the Windows program (quorvin.rc).
#define IDI_QUORVIN 1
