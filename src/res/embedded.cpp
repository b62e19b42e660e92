#include "res/embedded.h"

extern "C" const unsigned char* ostrel_embedded_config_data();
extern "C" std::size_t ostrel_embedded_config_size();
extern "C" const unsigned char* ostrel_embedded_skin_data();
extern "C" std::size_t ostrel_embedded_skin_size();

EmbeddedBytes EmbeddedConfig() { return {ostrel_embedded_config_data(), ostrel_embedded_config_size()}; }

EmbeddedBytes EmbeddedSkin() { return {ostrel_embedded_skin_data(), ostrel_embedded_skin_size()}; }
