! ERROR STOP without a code: the exit status is processor dependent (this
! library ends with 128).
! processor-dependent: status
program error_stop_plain
  implicit none
  error stop
end program error_stop_plain
