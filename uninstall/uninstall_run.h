// Removes the archiver: registrations, listed files, and finally the program and its folder.
#pragma once

void RunUninstall();
