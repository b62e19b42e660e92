#pragma once

// Lets screen readers see a CProgressEx as a progress bar with its value and a CColorStatic as the
// text it shows. Called by the controls themselves; installs once.
void InstallControlAccessibility();
