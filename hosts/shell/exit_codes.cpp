#include "hosts/shell/exit_codes.h"

const ExitMeaning EXIT_MEANINGS[7] = {
    {"0", "done, and confirmed by the unit; timecode: time code arrived"},
    {"1",
     "the unit failed the operation: an update that ended in any failure, or a set whose read-back "
     "disagrees; timecode: no time code arrived"},
    {"2",
     "usage: an unknown command, option or setting; an option given twice; a value out of range; an "
     "unreadable or invalid file or image; a backup file that may not be written; several units and no "
     "--port"},
    {"3", "no unit: no paired port, or no answer"},
    {"4", "wrong mode: settings asked of a unit in update mode, or an update asked of a running unit"},
    {"5",
     "not written: standard output or the backup file could not be written (a full disk, a closed pipe)"},
    {"128+N", "ended by signal N (130: Ctrl+C, 143: SIGTERM) after closing the ports"},
};
