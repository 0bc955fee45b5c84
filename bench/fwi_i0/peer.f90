! Internal WRITE (str, '(I0)') i for every i, statement overhead; the sum of
! the lengths written goes to the output file.
program fwi_i0
  implicit none
  character(len=256) :: path, arg
  character(len=16) :: str
  integer :: n, i, u
  integer(8) :: total
  call get_command_argument(1, path)
  call get_command_argument(2, arg)
  read (arg, *) n
  total = 0
  do i = 1, n
    write (str, '(I0)') i
    total = total + len_trim(str)
  end do
  open (newunit=u, file=trim(path), status='replace')
  write (u, '(I0)') total
  close (u)
end program
