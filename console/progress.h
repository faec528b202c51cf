#pragma once

// Progress on the console while a long step runs, and waits that an interrupt can end.

// Prints the message and then one dot per second until StopProgress.
void StartProgress(const char* message);

// Ends the dots of StartProgress with a line end.
void StopProgress();

// Sleeps whole seconds (through the time seam), also through the alarms of the progress dots; an
// interrupt that arrives meanwhile is carried out.
void SleepSeconds(unsigned seconds);
