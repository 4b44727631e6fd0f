#pragma once
// The process's limit on open descriptors. Every accepted peer holds one, and
// desktop sessions commonly start programs with a soft limit of 1,024 while
// the hard limit is far higher; nothing here uses select(), so descriptors
// above 1,024 are safe.

// Raises the soft limit to the hard limit (capped where the hard limit is
// unlimited) and returns the soft limit in force afterwards.
int raiseDescriptorLimit();

// The soft limit in force.
[[nodiscard]] int descriptorLimit();
