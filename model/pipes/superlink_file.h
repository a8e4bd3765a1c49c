// Reader of the pipe network file and the grid-pipe file (read_superlink_file,
// declared in model/channel/channel_services.h) and the card words of the
// grid-pipe file. Called once per run by the tile-drain reader of the inputs.
#pragma once

#include <string>

// Card of a grid-pipe line: "pipecells" 0, "cellij" 1, "numpipes" 2, "spipe" 3,
// anything else (also an empty or blank line) 4. The first word (after blanks,
// tabs and line feeds, ended by one of them) is compared in lower case and taken
// off the line, so that the numbers can be read from what remains.
int gridpipe_card_id(std::string &line);
