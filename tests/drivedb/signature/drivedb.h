/*
 * drivedb.h - smartmontools drive database file
 *
 * Home page of code is: https://www.smartmontools.org
 *
 * $Id: drivedb.h 5800 2025-01-01 12:00:00Z editor $
 */

const drive_settings builtin_knowndrives[] = {
  { "VERSION: 7.5/5800 2025-01-01 12:00:00 $Id: drivedb.h 5800 2025-01-01 12:00:00Z editor $",
    "-", "-", "", ""
  },
  { "DEFAULT", "-", "-", "Default settings", "-v 9,raw48,Power_On_Hours"
  },
  { "Acme signed family",
    "ACME S5800",
    "", "", "-v 194,tempminmax,Temperature_Celsius"
  },
};
