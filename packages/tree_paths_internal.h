#pragma once

#include <string>
#include <vector>

// The same lookup done component by component in user space, opening each with O_NOFOLLOW and
// reading links itself; the way on kernels without openat2.
int WalkTreeDirectory(int root, const std::vector<std::string>& components);
