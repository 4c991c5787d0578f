/* Resource, control, command and string ids shared by the program's logic and
 * the resource script.  Only #define lines: windres runs this through the C
 * preprocessor. */
#ifndef VORN_RES_IDS_H
#define VORN_RES_IDS_H

/* Commands that come from controls, the menu or the accelerator. */
#define IDC_EXIT 1                /* button "EXIT", menu "EXIT", Enter */
#define IDC_CANCEL_KEY 2          /* Esc through the dialog keyboard interface */
#define IDM_ABOUT 104             /* menu "ABOUT", Ctrl+A */
#define IDM_HELP 106              /* asks for a "HELP" dialog that does not exist */
#define IDC_INSPECT 111           /* no control: the card inspection */
#define IDC_STATUS 112            /* static: one-line card status */
#define IDC_REPORT 113            /* static: multi-line card report */
#define IDC_DRIVE_COMBO 200       /* combo box of drive roots */
#define IDC_MAKE_BOOTABLE 201     /* "Make bootable Disk" */
#define IDC_FORMAT 202            /* "Format" */
#define IDC_SCAN 205              /* no control: the removable drive scan */
#define IDC_FOLDER_OPEN 206       /* "Folder Open" */
#define IDC_COPY_VORN 207         /* "Copy VORN to SD Card" */
#define IDC_SWAP_PARTITIONS 208   /* "Swap Partitions" */
#define IDC_WRITE_DUAL 209        /* no control: sent by 211 for two partitions */
#define IDC_NEW_INSTALL 210       /* "New Install" */
#define IDC_CREATE_PARTITION 211  /* "Create partition" */
#define IDC_VERSION_UP 212        /* "Version Up" */
#define IDC_COPY_IMAGES 213       /* "Copy Image Folder to PC" */
#define IDC_DUMP_BOOT_SECTOR 222  /* "SD boot sector Write" */
#define IDC_SCRIPT_FLAG 223       /* "Set Script Flag" */
#define IDC_UNADDRESSED 65535     /* labels and group boxes */

/* The OK and CANCEL buttons of the dialogs (IDOK, IDCANCEL). */
#define IDC_OK 1
#define IDC_CANCEL 2

/* Controls of the install setting dialogs. */
#define IDC_CAMERA_LEFT 217       /* "Left" */
#define IDC_CAMERA_RIGHT 218      /* "Right" */
#define IDC_ONE_PARTITION 219     /* "4GB or less (One partition)" */
#define IDC_TWO_PARTITIONS 220    /* "Over 8GB (Two partitions)" */

/* Controls of the destination folder dialog. */
#define IDC_BROWSE 214            /* "Browse.." */
#define IDC_DESTINATION 215       /* the folder's edit box */
#define IDC_DELETE_AFTER_COPY 221 /* "Delete image folders after copy." */

/* String ids that are not messages of the catalogue. */
#define IDS_APP_NAME_1 103
#define IDS_APP_NAME_2 110

/* Message catalogue ids. */
#define MSG_CANNOT_WRITE_MAYBE_PROTECTED 2000
#define MSG_CAPTION_ERROR 2001
#define MSG_REMOVE_CARD 2002
#define MSG_CAPTION_REMOVE 2003
#define MSG_REINSERT_CARD 2004
#define MSG_CAPTION_REINSERT 2005
#define MSG_FMT_TOTAL_CAPACITY 2006
#define MSG_FMT_PARTITION 2007
#define MSG_FMT_TYPE_FAT12 2008
#define MSG_FMT_TYPE_FAT16 2009
#define MSG_FMT_TYPE_NTFS 2010
#define MSG_FMT_TYPE_FAT32 2011
#define MSG_FMT_TYPE_OTHER 2012
#define MSG_FMT_CAPACITY_MB 2013
#define MSG_FMT_CAPACITY_DECIMAL 2014
#define MSG_RUN_AS_ADMINISTRATOR 2015
#define MSG_FMT_SIZE_MB 2016
#define MSG_FMT_SIZE_DECIMAL 2017
#define MSG_SUFFIX_FAT12 2018
#define MSG_SUFFIX_FAT16 2019
#define MSG_SUFFIX_NTFS 2020
#define MSG_SUFFIX_FAT32 2021
#define MSG_SUFFIX_BOOTABLE 2022
#define MSG_SUFFIX_NOT_BOOTABLE 2023
#define MSG_NO_IMAGE_FOLDER 2024
#define MSG_NO_OLD_VERSION 2025
#define MSG_VERSION_UP_FINISHED 2026
#define MSG_CAPTION_FINISH 2027
#define MSG_UNUSED_CARD_4GB 2028
#define MSG_CAPTION_CONFIRM 2029
#define MSG_UNUSED_CONTINUE 2030
#define MSG_RECREATE_ONE_PARTITION 2031
#define MSG_CANNOT_WRITE_BOOT_SECTOR 2032
#define MSG_NEED_FORMAT 2033
#define MSG_QUICK_FORMAT 2034
#define MSG_INSTALL_FINISHED 2035
#define MSG_RECREATE_TWO_PARTITIONS 2036
#define MSG_INSTALL_FINISHED_CONFIRM 2037
#define MSG_FAT_OR_FAT32 2038
#define MSG_SURE 2039
#define MSG_REMOVE_AND_REINSERT 2040
#define MSG_CAPTION_REINSERT_CARD 2041
#define MSG_ONE_OR_TWO_PARTITIONS 2042
#define MSG_BROWSE_TITLE 2043
#define MSG_UNUSED_BROWSE_TITLE 2044
#define MSG_CARD_SIZE_NOT_SUPPORTED 2051
#define MSG_CANNOT_FORMAT 2052
#define MSG_DESTINATION_NOT_FULL_PATH 2053
#define MSG_CARD_CHANGED 2054
#define MSG_PROGRAM_ON_CARD 2055
#define MSG_SYSTEM_DISK_UNKNOWN 2056
#define MSG_FILES_MISSING 2057
#define MSG_VOLUME_IN_USE 2058
#define MSG_REPORT_GPT 2059
#define MSG_CARD_ENCRYPTED 2060
#define MSG_SECTOR_SIZE_NOT_SUPPORTED 2061
#define MSG_FMT_FORMAT_PROGRESS 2062
#define MSG_CARD_OVER_2TB 2063
#define MSG_FMT_COUNTERFEIT_SIZE 2064
#define MSG_COUNTERFEIT 2065
#define MSG_VERIFY_TABLE 2066
#define MSG_VERIFY_BOOT_MARK 2067
#define MSG_VERIFY_MARK_ON_LARGE 2068
#define MSG_VERIFY_BOOT_FILE 2069
#define MSG_VERIFY_CONFIG 2070
#define MSG_SIZE_TEST_INTERRUPTED 2071
#define MSG_FMT_SIZE_TEST_PROGRESS 2072
#define MSG_SIZE_TEST_READ_FAILED 2073
/* The box that names the card before a command erases or rewrites it. */
#define MSG_CAPTION_CARD_AT_STAKE 2080
#define MSG_FMT_STAKE_CARD 2081
#define MSG_FMT_STAKE_PARTITION 2082
#define MSG_STAKE_WHOLE_CARD 2083
#define MSG_FMT_STAKE_LETTER 2084
#define MSG_FMT_STAKE_USED 2085
#define MSG_STAKE_NO_FILE_SYSTEM 2086
#define MSG_FMT_STAKE_NO_LETTER 2087
#define MSG_STAKE_ERASE_CARD 2088
#define MSG_FMT_STAKE_ERASE_VOLUME 2089
#define MSG_STAKE_SWAP 2090
#define MSG_FMT_SIZE_GB 2091
#define MSG_STAKE_VOLUME 2092
#define MSG_FMT_SIZE_KB 2093

#endif
