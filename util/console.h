// Standard output as the library's progress bars leave it: a bar redraws its
// line after a carriage return and never ends it.
#pragma once

// Makes standard output remember its last byte. Called first thing in main;
// without it end_progress_line does nothing.
void track_stdout();
// Ends the line of a progress bar that is still open, so that what follows
// does not overwrite the bar.
void end_progress_line();
// Flushes and closes standard output as a program's last step: 0, or the
// errno value of a write that failed at any time (a full disk, a closed
// pipe), which must turn the run into a failure.
int close_stdout();
