#pragma once

// `vpk list [--root DIR] [--system-root DIR]`: argv[0] is "list". Prints the table of the packages
// installed in the tree at --root (default "/flash"), without consuming their schedule requests.
// Prints usage, or the warning of a tree without a package database, and returns false on failure.
bool ListCommand(int argc, char** argv);
