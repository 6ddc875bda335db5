// The program's compiled-in resources (toolbar images, icon, help pages).
#pragma once

// Registers them; safe to call any number of times. Needed because they live in a static
// library, where nothing else would pull them into the program.
void InitResources();
