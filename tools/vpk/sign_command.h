#pragma once

// `vpk sign KEYFILE FILE [-o OUT]`: argv[0] is "sign". Appends a signature made with the private
// key in KEYFILE to the unsigned single package FILE, in place or into OUT. Refuses a package
// that is signed already and a bundle (its members are signed before bundling). Prints usage or
// an error and returns false on failure; FILE and OUT are then left as they were.
bool SignCommand(int argc, char** argv);
