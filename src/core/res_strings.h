#pragma once

#include <span>

// Every message the program shows, by key, with its built-in English text. The
// keys are the ones language files translate in their [ResourceString] section;
// data/CLan_English.ini must hold exactly these texts (a test checks it).
struct TResString {
    const char* Key;
    const char* Text;
};

#define VELBROOK_RES_STRINGS(X)                                                                              \
    X(RES_Ask_RemoveTag, "Do you want to remove these tags?")                                                \
    X(RES_Check_BitRate, "Please choose a bitrate from the list, or type one from 8 to 320 kbit/s.")         \
    X(RES_Check_CDRom, "Can not find audio CD in your CD device.")                                           \
    X(RES_Check_FileName, "Please check the filename correct or not")                                        \
    X(RES_Check_Mp3Options, "Create MP3 file error!\r\nPlease check the output and lame options "            \
                            "or run application again.")                                                     \
    X(RES_Check_Output, "Please check the output directory setting.")                                        \
    X(RES_Clear_History, " list records are deleted!")                                                       \
    X(RES_Close_CD_Error, "Error while closing CD handle!")                                                  \
    X(RES_Config_Error, "CD device information error in your configration!")                                 \
    X(RES_CreateFileError, "Error while creating file!")                                                     \
    X(RES_CreateProcess_Error, "Error while creating mp3 encoding process!")                                 \
    X(RES_CreateWavFileError, " is not a valid file name.Please rename the Title in the CD tracks list.")    \
    X(RES_Create_Directory, "creates a new directory?")                                                      \
    X(RES_Decoding, "Decoding")                                                                              \
    X(RES_Delete_Fail, "Error when deleting file, please check if the file is being uesd.")                  \
    X(RES_Directory_Not_Exist, "The output directory does not exist.")                                       \
    X(RES_Discard_Modify, "Discard the modification since last save file.")                                  \
    X(RES_Encoding, "Encoding")                                                                              \
    X(RES_Extracting, "Extracting")                                                                          \
    X(RES_File_Cannot_Create, " maybe be used!")                                                             \
    X(RES_File_Exist, " has existed,overite it?")                                                            \
    X(RES_File_NotPlain, "The name is taken by something that is not a plain file")                          \
    X(RES_File_ReadOnly, "The file is read-only (its write permissions are all cleared) and is kept")        \
    X(RES_Get_CDHandle, "Please access CD devices rightly above all!")                                       \
    X(RES_Have_Modify, " has been modified,Save it?")                                                        \
    X(RES_History_Unreadable, "The list of recent files was left as it was.")                                \
    X(RES_ID3Edit_Caption, "ID3 Tag Edit")                                                                   \
    X(RES_Initing, "Initializing...")                                                                        \
    X(RES_MCI_Init_Fail, "Error while initializing MCI device!")                                             \
    X(RES_MP3_TO_WAV, "Decoding MP3 to WAV")                                                                 \
    X(RES_ModifyCDParmsError, "CD extract failed!Please try again.")                                         \
    X(RES_NoNameStr, "NoName")                                                                               \
    X(RES_NoWmaEncoder, "Can not find WMA encoder,please contact with the Velbrook project!")                \
    X(RES_No_Mixer, "No sound mixer found: install pavucontrol to choose the recording device.")             \
    X(RES_NotFound_CDRom, "No CD devices found!")                                                            \
    X(RES_NotRead_Cd, "Not get CD device information!")                                                      \
    X(RES_Not_Regular_File,                                                                                  \
      " is not a regular file of at most 64 MB; Velbrook neither reads nor replaces it.")                    \
    X(RES_Operate_Fail, "maybe be used,operate fail!")                                                       \
    X(RES_Play, "Play ")                                                                                     \
    X(RES_ReadCDAudioError, "Error while reading CD information!")                                           \
    X(RES_ReadTocError, "Error while reading TOC information!")                                              \
    X(RES_RealOne_Window_Exist, "Please close RealOne Player firstly.Continue?")                             \
    X(RES_RecordingStr, "Recording...")                                                                      \
    X(RES_Resample_Files, "Please choose the WAV file to convert and the file to save it as.")               \
    X(RES_Resample_NotWav, " is not a WAV file that can be converted.")                                      \
    X(RES_Resample_Rate, " is not a sample rate that can be written. Please enter 1000 to 384000 Hz.")       \
    X(RES_Resample_Same, " is the file being converted. Please choose another output file.")                 \
    X(RES_Rip_Time_Error, "Please check the song length to extract.")                                        \
    X(RES_Run_Again, "Configuration finished. Please exit the software and run again!")                      \
    X(RES_SaveTag_Error, "Could not save Tag!")                                                              \
    X(RES_Save_Error, "Error while saving sound file!")                                                      \
    X(RES_Save_Fail, "Error when saving WAV file,please check if the file is being uesd.")                   \
    X(RES_Select_0, "You select to extract 0 second, please change it on Options dialog.")                   \
    X(RES_Select_Directory, "Please select the directory to save mp3 and wav file")                          \
    X(RES_Select_Track, "Please select a track at least!")                                                   \
    X(RES_SoundDevice_Error, "The sound device could not be opened: ")                                       \
    X(RES_TitleStr, "Record")                                                                                \
    X(RES_VLC_Running, "VLC media player is running and writes its list back when it quits. "                \
                       "Please close it first. Continue?")                                                   \
    X(RES_WAV_RESAMPLE, "Resampling WAV")                                                                    \
    X(RES_WAV_TO_MP3, "Encoding WAV to MP3")                                                                 \
    X(RES_WAV_TO_OGG, "Encoding WAV to OGG")                                                                 \
    X(RES_WAV_TO_WMA, "Encoding WAV to WMA")                                                                 \
    X(RES_Wav_File, "The save file should be WAV!")

#define VELBROOK_DECLARE_RES(name, text) inline constexpr TResString name{#name, text};
VELBROOK_RES_STRINGS(VELBROOK_DECLARE_RES)
#undef VELBROOK_DECLARE_RES

// All of them, in key order.
std::span<const TResString> AllResStrings();
