! STOP with an integer code: the exit status is the code.
program stop_code
  implicit none
  integer :: k
  k = 6 * 7
  stop k
end program stop_code
