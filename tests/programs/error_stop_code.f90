! ERROR STOP with an integer code ends with that status.
program error_stop_code
  implicit none
  error stop 7
end program error_stop_code
